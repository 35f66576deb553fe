TEXT:  # c
line
.;