/* The empty descriptor that ends the table of delay-load descriptors.
 *
 * dlltool -y puts each library's descriptor in a section ".text$2"; the
 * linker sorts ".text$*" by name, so this one lands right after the last of
 * them, and readers of the PE header's delay-import directory find the end of
 * the table they expect (cmake/fill_delay_import_directory.py points the
 * directory at it). */
__attribute__((section(".text$2z"), used, aligned(16)))
static const unsigned char end_of_delay_import_descriptors[32];
