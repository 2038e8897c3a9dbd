// The explanation as plain text for a person (a console, an e-mail) and as
// one JSON object for programs; both rendered from the same Explanation.
#pragma once

#include <vector>

#include "capture/explanation.h"

void WriteExplanationText(const Explanation& explanation, std::vector<char>& out);

// The object alone, without a line end: standing alone or inside a capture.
void WriteExplanationJson(const Explanation& explanation, std::vector<char>& out);
