// Program entry: placeholder until the main window lands.
int main() { return 0; }
