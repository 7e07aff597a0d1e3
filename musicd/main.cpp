// Placeholder until the bundled service lands.
#include <cstdio>
int main() { std::puts("http://127.0.0.1:0"); return 0; }
