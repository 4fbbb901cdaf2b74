#pragma once
// Private members of the parser that the import suite drives directly.
#include <string>

#include "BaseParser.h"

class CBaseParserTestAccess {
 public:
  static void SetWork(CBaseParser& p, const std::string& w) { p.m_workFolder = w; }
  static const std::string& Work(const CBaseParser& p) { return p.m_workFolder; }
  static bool ParseKmz(CBaseParser& p) { return p.ParseKmz(); }
  static bool GetKmlFromKmz(CBaseParser& p, const std::string& path) { return p.GetKmlFromKmz(path); }
  static bool GetDaeFromKmz(CBaseParser& p, const std::string& path) { return p.GetDaeFromKmz(path); }
  static bool CreateLocationTxt(CBaseParser& p, int level, const std::string& stem) {
    return p.CreateLocationTxt(level, stem);
  }
};
using Access = CBaseParserTestAccess;
