// Runs a fuzz target once on every file of the folders given on the command
// line: the test command replays the seed corpora this way, without libFuzzer.
#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (const auto& file : std::filesystem::directory_iterator(argv[i], error)) {
            std::ifstream in(file.path(), std::ios::binary);
            std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            // An exactly sized block, as libFuzzer hands it over, so that an over-read shows.
            std::vector<uint8_t> input(bytes.begin(), bytes.end());
            LLVMFuzzerTestOneInput(input.empty() ? (const uint8_t*)"" : input.data(), input.size());
            ++inputs;
        }
        if (error) fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
    }
    printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;  // an empty or missing corpus proves nothing
}
