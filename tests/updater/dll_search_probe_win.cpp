// A DLL that exists only beside the test program: whether the loader still
// finds it there tells whether the program's folder is searched.
extern "C" __declspec(dllexport) int dll_search_probe() {
    return 42;
}
