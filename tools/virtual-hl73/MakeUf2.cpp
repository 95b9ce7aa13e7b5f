// hl73-uf2: packs a binary into an RP2040 UF2 image, as the maker's build would.

#include "Uf2.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

int main (int argc, char** argv)
{
    uint32_t base = 0x10000000, family = uf2::rp2040FamilyId;
    std::vector<std::string> files;

    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];

        if (argument == "--base" && i + 1 < argc)
            base = static_cast<uint32_t> (std::strtoul (argv[++i], nullptr, 0));
        else if (argument == "--family" && i + 1 < argc)
            family = static_cast<uint32_t> (std::strtoul (argv[++i], nullptr, 0));
        else
            files.push_back (argument);
    }

    if (files.size() != 2)
    {
        std::cerr << "usage: hl73-uf2 [--base ADDRESS] [--family ID] PAYLOAD.bin OUT.uf2\n";
        return 2;
    }

    const auto& input = files[0];
    const auto& output = files[1];
    std::ifstream in (input, std::ios::binary);

    if (! in)
    {
        std::cerr << "hl73-uf2: cannot read " << input << "\n";
        return 1;
    }

    const std::vector<uint8_t> payload ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    const auto image = uf2::pack (payload, base, family);
    std::ofstream out (output, std::ios::binary);
    out.write (reinterpret_cast<const char*> (image.data()), static_cast<std::streamsize> (image.size()));
    return out ? 0 : 1;
}
