// The floor of a removal: a bare program that deletes a tree given as a list, one
// DeleteFile per file and one RemoveDirectory per folder, and nothing else.
//
//   bench_deletefloor <list file>
//
// The list holds one path a line, "F <path>" for a file and "D <path>" for a folder,
// folders after everything they hold. Exit code 1 when anything could not be deleted.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_deletefloor <list file>\n");
        return 2;
    }
    FILE* list = std::fopen(argv[1], "rb");
    if (!list) return 2;
    char line[4096];
    int failed = 0;
    while (std::fgets(line, sizeof line, list)) {
        std::string path = line;
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
            path.pop_back();
        if (path.size() < 3) continue;
        const bool ok =
            path[0] == 'F' ? DeleteFileA(path.c_str() + 2) : RemoveDirectoryA(path.c_str() + 2);
        if (!ok) ++failed;
    }
    std::fclose(list);
    return failed ? 1 : 0;
}
