// Temporary: replaced by the driver object.
extern "C" __declspec(dllexport) void* GetBrailleInterface(void** out) { return out ? *out : nullptr; }
