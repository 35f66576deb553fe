if size :over 10K { reject text:
Too big
..dotted
.
; }