// What the tracker is asked for its settings, and a record of what it answers.
#pragma once
#include <string>
#include <vector>

using Lines = std::vector<std::string>;
// The set command that quiets the tracker's other output, and the dump query.
inline const std::string kOo = "GSS,KestrelonKV-718,3,0,OO=20*26!\r\n";
inline const std::string kL0 = "GSC,KestrelonKV-718,L0*76!\r\n";

// A record of the dump: its kind and number fields, the payload, and the line end.
inline std::string Record(int kind, int number, const std::string& payload = "TZ=+3,DST=0") {
    return "GSs,KV718-0040," + std::to_string(kind) + "," + std::to_string(number) + "," + payload +
           "*5C!\r\n";
}
