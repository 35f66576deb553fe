// A small program on the console classes: the frame, a bordered window with
// some text, and a message box that asks before the program ends.
//
// Keys: m shows the question ("y" quits), q quits, f makes a bad screen
// access on purpose (the program must end with the terminal restored).
#include "msgwin.h"
#include "ovlwin.h"
#include "plframe.h"

int main()
{
    PlScreen screen;
    if (!screen.isok())
        return 1;
    {
        PlFrame frame(screen);
        frame.settopleft("Demo Console");
        frame.settopright("Frame Right Text");
        frame.setbottomleft("[m] Message   [q] Quit");
        OvlWin info("Details", 40, 6, 15, 1, 7, 0);
        info.show();
        put_string(" Hello from the demo window.\r\n Press m for a message.");
        info.unfocus();
        while (screen.isok()) {
            int key = wait_key();
            if (key == 'q')
                break;
            if (key == 'f')
                screen.cell(screen.getxsize(), 0).ch = 'x';
            if (key == 'm') {
                MsgWin box("Quit the demo? (y/n)", "Question");
                if (box.wait("yn\33") == 'y')
                    break;
            }
        }
    }
    return 0;
}
