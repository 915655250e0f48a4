#pragma once
// Conversion of the 44 Czech and Slovak letters between seven 8-bit encodings.

#include <cstdint>
#include <string>

namespace sejfko {

// Rows: 0 ASCII without diacritics, 1 Kamenický, 2 code page 852, 3 Windows-1250,
// 4 ISO 8859-2, 5 KOI8-CS, 6 Mac Central European.
constexpr int CzechRowCount = 7;
constexpr int CzechLetterCount = 44;
extern const uint8_t CzechTable[CzechRowCount][CzechLetterCount];

// Replaces each byte found in row `fromRow` by the byte of row `toRow` in the same column (first
// occurrence); other bytes stay. Equal rows change nothing.
void ConvertCzechText(uint8_t fromRow, uint8_t toRow, std::string& text);

}  // namespace sejfko
