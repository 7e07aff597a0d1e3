// Placeholder until the command-line client lands.
int main() { return 0; }
