// Matching output lines whose figures vary: in a shape, '#' stands for an
// integer (an optional minus sign and one or more digits) and '@' for exactly
// one digit; every other character stands for itself.
#pragma once

#include <cctype>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace line_shape {

inline bool isDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

inline bool matches(std::string_view z, std::string_view zShape) {
  size_t i = 0;
  for (char c : zShape) {
    if (c == '#') {
      if (i < z.size() && z[i] == '-') i++;
      size_t iStart = i;
      while (i < z.size() && isDigit(z[i])) i++;
      if (i == iStart) return false;
    } else if (c == '@') {
      if (i >= z.size() || !isDigit(z[i])) return false;
      i++;
    } else {
      if (i >= z.size() || z[i] != c) return false;
      i++;
    }
  }
  return i == z.size();
}

// The label padded to 36 columns, a blank and the figures' shape.
inline std::string labelled(const std::string& zLabel, const std::string& zFigures) {
  std::string z = zLabel;
  if (z.size() < 36) z.resize(36, ' ');
  return z + " " + zFigures;
}

inline std::vector<std::string> lines(const std::string& z) {
  std::vector<std::string> a;
  std::istringstream in(z);
  for (std::string zLine; std::getline(in, zLine);) a.push_back(zLine);
  return a;
}

}  // namespace line_shape
