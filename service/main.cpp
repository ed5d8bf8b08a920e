// vyx-fingerprint-driver: the D-Bus fingerprint service. Start-up, the adaptor
// and the workers are not written yet; until then the program exits at once.
int main() { return 0; }
