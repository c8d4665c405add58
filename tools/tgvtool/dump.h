#pragma once
// The JSON image of a configuration document, for inspecting a file without the application.

#include <string>

class CDoc;

// Every stored field of the document, its column sets, records and history samples, and the
// number of entries in its live-server list.
std::string DumpDocumentJson(const CDoc& doc);
