/* Code the end-to-end tests know byte for byte. `tick_target` begins with a one-byte nop,
   so that a debuggee continued behind a breakpoint there runs on unharmed; `known_code`
   is never called: it holds a fixed instruction sequence to list and dump. */
#ifndef KNOWN_CODE_H
#define KNOWN_CODE_H

void tick_target(void);
void known_code(void);

__asm__(".text\n"
        ".globl _tick_target\n"
        "_tick_target:\n"
        "    nop\n"
        "    ret\n"
        ".globl _known_code\n"
        "_known_code:\n"
        "    push %ebp\n"             /* 55 */
        "    mov %esp, %ebp\n"        /* 89 E5 */
        "    sub $0x10, %esp\n"       /* 83 EC 10 */
        "    mov 8(%ebp), %eax\n"     /* 8B 45 08 */
        "    add $0x12345678, %eax\n" /* 05 78 56 34 12 */
        "    call _tick_target\n"     /* E8 rel32 */
        "    xor %eax, %eax\n"        /* 31 C0 */
        "    leave\n"                 /* C9 */
        "    ret\n"                   /* C3 */
        "    int3\n"
        "    int3\n"
        "    int3\n");

#endif
