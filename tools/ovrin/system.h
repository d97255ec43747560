// What the tool needs of the system it runs on: one file for each
// (system_posix.cpp, system_win32.cpp).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace ovrin_tool {

// Catches Ctrl-C and the like from now on (SIGINT and SIGTERM on POSIX):
// Interrupted() tells.
void CatchInterrupts();
bool Interrupted();
// Interrupts as Ctrl-C does, for a program that ends its run itself (the
// tray program's Quit).
void Interrupt();
void SleepMs(int milliseconds);

// Writes UTF-8 text to stdout, stderr or a file as the user will read it:
// to a Windows console as UTF-16 (WriteConsoleW), which shows every
// character whatever the console's code page; elsewhere as the UTF-8 it is.
// False when it could not be written.
bool WriteText(std::FILE* stream, const std::string& text);

bool StdinIsTerminal();
bool StderrIsTerminal();

// Writes what the file holds through to the disk; false when that failed.
bool SyncFile(std::FILE* file);

// Where the system has a port beyond what the library tells of it, as
// label/value pairs (its device, driver, /dev/serial/by-id name).
std::vector<std::pair<std::string, std::string>> PortDetails(const std::string& port);

// How the user can get the right to open `port`, when the system can tell
// ("" otherwise).
std::string PermissionHint(const std::string& port);

// Why a file that holds a secret must not be used, with the command that
// mends it; "" when it does not exist yet or only its owner may read or
// change it (on Windows, where a file takes its folder's rights, always "").
std::string SecretFileProblem(const std::string& path);
// Writes `text` to `path`, created (or emptied) for its owner alone to read
// and write. False when it could not.
bool WriteSecretFile(const std::string& path, const std::string& text);

// The 16 bytes of an IPv6 address written as text ("2001:db8::1", a zone
// after '%' left out); false when the text is not one.
bool Ipv6Bytes(const std::string& text, unsigned char (&bytes)[16]);

// `count` bytes from the operating system's random generator; false when it
// gave none.
bool RandomBytes(unsigned char* bytes, std::size_t count);

// The addresses other machines can reach this one at, for a server listening
// on `host`: for 0.0.0.0 every IPv4 address of an interface that is up, for
// :: the IPv6 ones (in brackets) too; loopback and link-local left out.
std::vector<std::string> ReachableAddresses(const std::string& host);

}  // namespace ovrin_tool
