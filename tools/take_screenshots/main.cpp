// Placeholder until this tool lands.
int main() { return 1; }
