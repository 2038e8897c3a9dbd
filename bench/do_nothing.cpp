// The cost of starting a 32-bit exe at all, for context.
int wmain() { return 0; }
