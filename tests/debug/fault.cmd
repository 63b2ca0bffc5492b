break Inner
run
bt
step 3
bt
print r0
run
continue
quit
