# The prompt reaches the reader before the program waits for input.
python3 drive.py "$RUNNER" answer
