// Runs a fuzz target's entry point once on every file named on the command
// line, or on every file of a named directory, without libFuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool read_whole_file(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;)
        bytes->insert(bytes->end(), chunk, chunk + n);
    fclose(f);
    return true;
}

void list_inputs(const std::string& path, std::vector<std::string>* files) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        files->push_back(path);
        return;
    }
    DIR* dir = opendir(path.c_str());
    std::vector<std::string> names;
    while (dirent* e = dir ? readdir(dir) : nullptr)
        if (e->d_name[0] != '.') names.push_back(path + "/" + e->d_name);
    if (dir) closedir(dir);
    std::sort(names.begin(), names.end());
    files->insert(files->end(), names.begin(), names.end());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) list_inputs(argv[i], &files);
    for (const std::string& file : files) {
        std::vector<uint8_t> bytes;
        if (!read_whole_file(file, &bytes)) {
            fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    printf("replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
