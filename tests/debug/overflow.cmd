# A stack overflow: the runner's report from the frames SPIM keeps, then
# bt (its first frames) and print still work.
run
bt 3
print r4
