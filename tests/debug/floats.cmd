# Float registers: fpN as a float, /x for its bits, $fN, and a general
# register read as a float with /f.
break 175
run
p fp6
p /x fp6
p $f8
p /f r6
x r6
quit
