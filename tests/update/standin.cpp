// A stand-in for the program in restart tests: floods its standard output and error, as a program full of
// warnings would, then leaves its arguments, one per line, in "<its path>.ran".

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    const std::string noise(256 * 1024, 'x'); // more than a pipe holds
    std::fwrite(noise.data(), 1, noise.size(), stdout);
    std::fflush(stdout);
    std::fwrite(noise.data(), 1, noise.size(), stderr);

    const std::string marker = std::string(argv[0]) + ".ran";
    const std::string temporary = marker + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb"); // "\n" as it is, on Windows too
    if (!file)
        return 1;
    for (int i = 1; i < argc; ++i)
        std::fprintf(file, "%s\n", argv[i]);
    std::fclose(file);
    return std::rename(temporary.c_str(), marker.c_str()) == 0 ? 0 : 1; // the marker appears whole
}
