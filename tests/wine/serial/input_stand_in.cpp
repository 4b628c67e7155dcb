// The serial tests' stand-in for the input translation, while the real one is not in the tree.
#if __has_include("../../native/support/serial_input_stub.cpp")
#include "../../native/support/serial_input_stub.cpp"
#endif
