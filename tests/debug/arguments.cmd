# The program's arguments (after --): printed as quorvelin-run prints them,
# found again by going back, and argv[1] seen with x/s.
break 14
run
x/s r2
reverse-step
reverse-step
continue
continue
