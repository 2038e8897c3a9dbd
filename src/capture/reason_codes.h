// The reasons an explanation gives: stable lower-case codes, each with one
// plain sentence and, where there is one, the next step.
#pragma once

struct ReasonCode {
  const char* code;
  const char* sentence;
  const char* next;  // empty when there is nothing to do
};

// The entry of code; null for a code that is not one.
const ReasonCode* FindReason(const char* code);

// Every code, in the order the docs list them.
const ReasonCode* Reasons(unsigned& count);
