// Does nothing; exists to carry embedded version information.
int main() { return 0; }
