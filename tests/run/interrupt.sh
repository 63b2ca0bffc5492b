# An interrupt while the program waits for input: SPIM stopped, status 130.
python3 drive.py "$RUNNER" interrupt
