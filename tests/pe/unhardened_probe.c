/* A deliberately unprotected executable: linked without the mitigation flags and holding one
   writable and executable section, so the PE check can show that it notices each defect. */
__asm__(".section .wxprobe,\"wx\"\n\t.byte 0xC3\n\t.text");

int main(void) {
    return 0;
}
