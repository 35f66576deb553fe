# comment
/* block */ if true { if false { keep; } }