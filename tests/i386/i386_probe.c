/* Built with the i386 tests and run by cmake/i386-run.sh: where it exits
 * with 42, this machine runs the build's programs. */
int main(void) { return 42; }
