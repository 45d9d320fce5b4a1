// Stand-in for the information tool. The "PDF" it is asked about is a small text file that says
// how to answer:
//   exit=N            exit code (default 0)
//   password=TEXT     the file needs this user password (the rest of the line, exactly)
//   pages=N           page count printed once the password matched
//   gate=PATH         a FIFO read to its end before answering, so a test can hold the tool
//   ---               everything after this line is printed verbatim (without password=)
// "pi FILE" and "pi -upw - FILE" (the password on the first line of standard input) are the
// only accepted forms.
#include "gate.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    std::string file;
    std::string typed;
    const char* tried = nullptr;
    if (argc == 2) {
        file = argv[1];
    } else if (argc == 4 && std::strcmp(argv[1], "-upw") == 0 && std::strcmp(argv[2], "-") == 0) {
        std::getline(std::cin, typed);
        tried = typed.c_str();
        file = argv[3];
    } else {
        std::cout << "Usage: pi [-upw -] file\n";
        return 98;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cout << "Error: cannot open " << file << "\n";
        return 2;
    }
    int exitCode = 0;
    bool hasPassword = false;
    std::string password, pages, line;
    while (std::getline(in, line) && line != "---") {
        if (line.rfind("exit=", 0) == 0) {
            exitCode = std::stoi(line.substr(5));
        } else if (line.rfind("password=", 0) == 0) {
            hasPassword = true;
            password = line.substr(9);
        } else if (line.rfind("pages=", 0) == 0) {
            pages = line.substr(6);
        } else if (line.rfind("gate=", 0) == 0) {
            WaitForGate(line.substr(5));
        }
    }
    if (hasPassword) {
        if (tried && password == tried) {
            std::cout << "PDF version: 1.7\nPages: " << pages << "\n";
            return 0;
        }
        std::cout << "Error: Incorrect password\n";
        return 1;
    }
    std::ostringstream rest;
    rest << in.rdbuf();
    std::cout << rest.str();
    return exitCode;
}
