// FileOperation -cf SOURCE DESTINATION: copies one file. Exit 0 on success, 1 on a copy failure,
// 2 on a bad command line. The copy lands under a temporary name first so a reader never sees half a file.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], "-cf") != 0) {
        std::fprintf(stderr, "usage: FileOperation -cf SOURCE DESTINATION\n");
        return 2;
    }
    const fs::path source = argv[2];
    const fs::path destination = argv[3];
    const fs::path partial = destination.string() + ".partial";
    std::error_code error;
    fs::copy_file(source, partial, fs::copy_options::overwrite_existing, error);
    if (!error) fs::rename(partial, destination, error);
    if (error) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        std::fprintf(stderr, "FileOperation: cannot copy %s to %s: %s\n", source.string().c_str(),
                     destination.string().c_str(), error.message().c_str());
        return 1;
    }
    return 0;
}
