// host_cpu_run(cpu_call *): the machine-state harness of host/cpu.h.
// It keeps its own bookkeeping in static words rather than on the stack, so
// that the code under test may do anything to the registers, including EBP,
// and only has to return to it with a balanced stack.

        .intel_syntax noprefix

// C names as each object format spells them: Windows' 32-bit ones begin with
// an underscore; ELF has symbol types and sizes and a note on the stack.
#if defined(_WIN32)
#define C_NAME(name)    _##name
#define FUNCTION(name)
#define END(name)
#else
#define C_NAME(name)    name
#define FUNCTION(name)  .type name, @function
#define END(name)       .size name, . - name
#endif

// Offsets in struct host::cpu_call.
#define C_TARGET     0
#define C_IN         4
#define C_OUT        40
#define C_ESP_CALL   76
#define C_FX_LOAD    80
#define C_FX_BEFORE  84
#define C_FX_AFTER   88
// Offsets in struct host::cpu_regs.
#define R_EAX        0
#define R_ECX        4
#define R_EDX        8
#define R_EBX        12
#define R_ESP        16
#define R_EBP        20
#define R_ESI        24
#define R_EDI        28
#define R_EFLAGS     32

        .bss
        .balign 16
caller_fx:      .skip 512       // the C++ caller's floating-point state
caller_esp:     .skip 4
the_call:       .skip 4         // the cpu_call being run
call_target:    .skip 4

        .text
        .globl  C_NAME(host_cpu_run)
        FUNCTION(C_NAME(host_cpu_run))
        .p2align 4
C_NAME(host_cpu_run):
        push    ebp
        push    ebx
        push    esi
        push    edi
        mov     ebp, [esp + 20]
        mov     [the_call], ebp
        mov     [caller_esp], esp
        fxsave  [caller_fx]
        mov     eax, [ebp + C_TARGET]
        mov     [call_target], eax

        mov     eax, [ebp + C_FX_LOAD]
        test    eax, eax
        jz      1f
        fxrstor [eax]
1:      mov     eax, [ebp + C_FX_BEFORE]
        test    eax, eax
        jz      2f
        fxsave  [eax]

        // From POPFD on only MOVs, which leave the flags alone.
2:      push    dword ptr [ebp + C_IN + R_EFLAGS]
        popfd
        mov     eax, [ebp + C_IN + R_EAX]
        mov     ecx, [ebp + C_IN + R_ECX]
        mov     edx, [ebp + C_IN + R_EDX]
        mov     ebx, [ebp + C_IN + R_EBX]
        mov     esi, [ebp + C_IN + R_ESI]
        mov     edi, [ebp + C_IN + R_EDI]
        mov     [ebp + C_ESP_CALL], esp
        mov     ebp, [ebp + C_IN + R_EBP]
        call    dword ptr [call_target]
        .globl  C_NAME(host_cpu_return_address)
C_NAME(host_cpu_return_address):                // what the code under test finds at [ESP] on entry

        // PUSHFD first, before anything can touch a flag; EBP is parked on
        // the stack while it points at the record.
        pushfd
        push    ebp
        mov     ebp, [the_call]
        mov     [ebp + C_OUT + R_EAX], eax
        mov     [ebp + C_OUT + R_ECX], ecx
        mov     [ebp + C_OUT + R_EDX], edx
        mov     [ebp + C_OUT + R_EBX], ebx
        mov     [ebp + C_OUT + R_ESI], esi
        mov     [ebp + C_OUT + R_EDI], edi
        pop     dword ptr [ebp + C_OUT + R_EBP]
        pop     dword ptr [ebp + C_OUT + R_EFLAGS]
        mov     [ebp + C_OUT + R_ESP], esp
        cld                             // the C++ caller relies on DF clear
        mov     eax, [ebp + C_FX_AFTER]
        test    eax, eax
        jz      3f
        fxsave  [eax]
3:      fxrstor [caller_fx]
        mov     esp, [caller_esp]
        pop     edi
        pop     esi
        pop     ebx
        pop     ebp
        ret
        END(C_NAME(host_cpu_run))

#if !defined(_WIN32)
        .section .note.GNU-stack, "", @progbits
#endif
