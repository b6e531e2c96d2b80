// main.cpp: svn.cgi's entry point: one handler answers the request.

#include "ui/cgi/handler.h"

int main() {
  SVNHandler handler;
  handler.Process();
  return 0;
}
