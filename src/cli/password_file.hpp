#pragma once
// Passwords of encrypted archives on the command line: never as an argument (other users see
// the arguments of running programs), always through a file, or from the configuration.

#include <string>
#include <vector>

namespace sejfko {

// The passwords of FILE: one a line (LF or CR LF), empty lines left out. Throws Exception (Czech
// text, without the file's content) when the file cannot be read, is larger than 64 KiB or
// holds no password.
std::vector<std::string> ReadPasswordFile(const std::string& path);

// The passwords for reading archives: those of `passwordFile` when one is given; otherwise the
// "Archive password" of the data directory (`configDirectory`, or the default one) when it is
// set; otherwise none.
std::vector<std::string> ReadingPasswords(const std::string& passwordFile,
                                          const std::string& configDirectory);

// Takes "--password-file FILE" out of `arguments` into `file`. False, with the message in
// `error`, when the option lacks its file or is given twice.
bool TakePasswordFileOption(std::vector<std::string>& arguments, std::string& file,
                            std::string& error);

}  // namespace sejfko
