#pragma once
// A generator of a large plug-in as people write them: many procedures,
// each with loops, a case statement, Pos/Copy/IntToHex and string
// concatenation, and an ONSEND that calls every one of them. For measuring
// what a loaded plug-in costs in memory.
#include <string>

namespace bench_support {

// Source of a plug-in of about the given number of lines.
inline std::string LargePlugin(int lines) {
    // Each procedure is 34 lines; ONSEND calls each on one line.
    const int procs = lines / 35 > 0 ? lines / 35 : 1;
    std::string out = "var Counter: Integer;\n\n";
    for (int k = 0; k < procs; ++k) {
        const std::string n = std::to_string(k);
        out += "function Field" + n + "(const s: string; n: Integer): string;\n"
               "var\n  i, j, p, sum: Integer;\n  t, u: string;\n"
               "begin\n"
               "  Result := '';\n  t := s;\n  sum := " + n + ";\n"
               "  for i := 1 to n do\n  begin\n"
               "    p := Pos(',', t);\n"
               "    if p > 0 then\n    begin\n"
               "      u := Copy(t, 1, p - 1);\n      t := Copy(t, p + 1, Length(t));\n"
               "    end\n    else\n      u := t;\n"
               "    case (i + " + n + ") mod 4 of\n"
               "      0: Result := Result + IntToHex(i * " + std::to_string(k % 97 + 3) + ", 4);\n"
               "      1: Result := Result + u;\n"
               "      2: Result := Result + '[' + IntToStr(Length(u)) + ']';\n"
               "    else\n      Result := Result + Chr(65 + (i + sum) mod 26);\n"
               "    end;\n"
               "    j := 0;\n"
               "    while j < Length(u) do\n    begin\n"
               "      sum := sum + Ord(u[j + 1]) * (j + 1);\n"
               "      j := j + 1;\n"
               "    end;\n"
               "  end;\n"
               "  Counter := Counter + sum mod 1000;\n"
               "end;\n\n";
    }
    out += "procedure OnSend;\nbegin\n";
    for (int k = 0; k < procs; ++k) out += "  TD := Field" + std::to_string(k) + "(TD + ',a,bc', 3);\n";
    out += "end;\n";
    return out;
}

}  // namespace bench_support
