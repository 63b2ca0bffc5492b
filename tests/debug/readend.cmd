# Batch mode without input: a read finds the end of input; a loop that reads
# on is stopped, where bt and print still work.
run
bt
print r0
