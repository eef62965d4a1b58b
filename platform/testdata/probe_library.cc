// A library for the loader's tests: one exported function with a known
// answer, and one whose name the program also uses (it must not be taken
// for the program's).
extern "C" int KelProbeAnswer() { return 42; }
extern "C" int KelProbeShadowed() { return 7; }
