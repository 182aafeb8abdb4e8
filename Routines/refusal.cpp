#include "refusal.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

void refuse(const std::string& message) {
  std::cout.flush();
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(1);
}
