// A shared library without GetFilterTable, which --plugin must refuse.
extern "C" __attribute__((visibility("default"))) int zeverive_test_something_else(void) {
    return 42;
}
