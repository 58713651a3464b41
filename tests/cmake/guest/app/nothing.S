/* An assembler source in a target that embeds files: only C and C++ sources get -iquote. */
#ifdef __ELF__
.section .note.GNU-stack,"",%progbits
#endif
