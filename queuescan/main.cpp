#include "hqlog.h"
#include "hqqueuedriver.h"

int main(int argc, char **argv)
{
    HqSyslog log("MailQueue", false, 5, 10);
    return x_main(argc, argv);
}
