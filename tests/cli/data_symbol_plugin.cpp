// A shared library whose GetFilterTable is a variable, not a function:
// --plugin must refuse it rather than call its bytes.
extern "C" __attribute__((visibility("default"))) const unsigned char GetFilterTable[16] = {0xff, 0xff, 0xff, 0xff};
