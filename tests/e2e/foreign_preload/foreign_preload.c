/* Preloaded into an agent by a test: a shared object from outside the system's library folders
   that does nothing. */
int brivane_foreign_preload_loaded = 1;
