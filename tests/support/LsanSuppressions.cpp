// Qt and GraphViz keep fontconfig caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() {  // NOLINT
  return "leak:libfontconfig.so\n";
}
