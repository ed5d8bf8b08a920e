// fwdownload: downloads a firmware image to a scanner in update state.
// Not written yet; exits at once.
int main() { return 0; }
