#pragma once

#include <array>
#include <cstdint>
#include <string>

/// One update server: where the version request goes and where release archives are fetched from.
struct UpdateServer
{
    std::string host;           // host name for the connection and the Host header, without port
    std::uint16_t port = 80;    // the version request's port
    std::string versionPath;    // target of the version request
    std::string downloadPrefix; // http address that the archive's name follows, ending in "/"
};

/// The primary server first, then the backup. The addresses are kept enciphered in the program and only
/// built here, at run time.
std::array<UpdateServer, 2> programUpdateServers();
