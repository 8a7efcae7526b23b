#include "tests/TestFiles.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

// Every folder made here is removed when the test program ends, whatever the tests' outcome.
static std::vector<std::string>& madeDirs() {
    static struct Dirs : std::vector<std::string> {
        ~Dirs() {
            std::error_code ignored;
            for (const std::string& dir : *this) {
                // Tests leave read-only files too, which Windows will not delete.
                for (fs::recursive_directory_iterator it(dir, ignored), end; it != end; it.increment(ignored)) {
                    fs::permissions(it->path(), fs::perms::owner_write,
                                    fs::perm_options::add | fs::perm_options::nofollow, ignored);
                }
                fs::remove_all(dir, ignored);
            }
        }
    } dirs;
    return dirs;
}

std::string makeTempDir() {
    static unsigned counter = 0;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error) abort();
    for (;;) {
        const fs::path dir = base / ("orvel-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
        if (fs::create_directory(dir, error)) {
            madeDirs().push_back(dir.string());
            return dir.string();
        }
        if (error) abort();
    }
}

std::string joinPath(const std::string& dir, const std::string& name) {
    return dir + (char)fs::path::preferred_separator + name;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    if (!file.write(bytes.data(), (std::streamsize)bytes.size())) abort();
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) { return std::ifstream(path, std::ios::binary).is_open(); }
