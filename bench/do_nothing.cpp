// The cost of starting an exe at all, for context.
int wmain() { return 0; }
