// Writes the benchmark images into a folder, for the timing scripts:
//   qbox_bench_images FOLDER
#include <exception>
#include <iostream>

#include "BenchFolder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: qbox_bench_images FOLDER\n";
        return 2;
    }
    try {
        BenchImages::MakeAll(argv[1]);
    } catch (const std::exception& error) {
        std::cerr << "qbox_bench_images: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
