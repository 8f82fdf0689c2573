// Loads a share library and calls ShareIt(path), as an installer does; prints the result.
// setup_share_probe <library> <folder>
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    void* library = ::dlopen(argv[1], RTLD_NOW);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        return 2;
    }
    auto shareIt = reinterpret_cast<int (*)(const char*)>(::dlsym(library, "ShareIt"));
    if (shareIt == nullptr) {
        return 2;
    }
    std::printf("%d\n", shareIt(argv[2]));
    ::dlclose(library);
    return 0;
}
