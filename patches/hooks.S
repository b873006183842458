// The four hook stubs: the bridge between the game's machine state at a
// patched place and a plug-in handler in the default C calling convention.
// Each saves the game's flags and general registers, calls its handler and
// restores everything before the game goes on, either into the game's own
// callee or past it, as the handler's result asks.
//
// Saved state on the game's stack, from the return address down:
//   [ret] [EFLAGS] [EAX ECX EDX EBX ESP' EBP ESI EDI]   (PUSHAD, EDI lowest)
// so from the frame pointer (ESP after PUSHAD): EDI +0, ESI +4, EBP +8,
// ESP' +12, EBX +16, EDX +20, ECX +24, EAX +28, EFLAGS +32, ret +36.
//
// The continuation words hold absolute game addresses and are not relocated
// with the module: the entry accepts only a game image at 0x400000.
// The same source assembles for the PE build (C symbols carry a leading
// underscore there) and the ELF build (the symbols stay inside the module, so
// the calls to the handlers bind locally and need no GOT in EBX).

#if defined(_WIN32)
#define SYM(x) _##x
#define LOCAL(x) .globl SYM(x)
#else
#define SYM(x) x
#define LOCAL(x) .globl SYM(x); .hidden SYM(x)
#endif

        .intel_syntax noprefix

        .data
        .p2align 2
LOCAL(zp_handled)
SYM(zp_handled):        .long 0          // last result of the freecam or arm handler
LOCAL(zp_freecam_stock)
SYM(zp_freecam_stock):  .long 0x43f2c0   // game camera routine, callee at 0x4415b9 and 0x44143c
LOCAL(zp_arm_stock)
SYM(zp_arm_stock):      .long 0x511240   // replay-interface routine, callee at the three arm sites
LOCAL(zp_aux_stock)
SYM(zp_aux_stock):      .long 0x51a360   // game routine called at 0x511328 once per frame pass
LOCAL(zp_tick_resume)
SYM(zp_tick_resume):    .long 0x51bbe8   // replay tick routine 0x51bbe0 past its displaced prologue

        .text

// Full save, for handlers that do floating-point work: the flags and general
// registers on the game's stack, then the SSE and x87 state in a 16-byte
// aligned FXSAVE area below them, and the handler gets an empty x87 stack
// under the default control word whatever precision the game has set. EBX
// keeps the frame (ESP after PUSHAD) across the handler call.
.macro SAVE_FULL
        pushfd
        pushad
        mov     ebx, esp                        // frame; EBX survives the handler call
        sub     esp, 528
        and     esp, -16                        // FXSAVE needs 16-byte alignment
        fxsave  [esp]
        fninit                                  // empty x87 stack, default control word
        cld
.endm

// Undoes SAVE_FULL down to the frame; POPAD and POPFD are the stub's own, as
// the handler's result decides where they lead.
.macro RESTORE_FPU
        fxrstor [esp]
        mov     esp, ebx
.endm

// The handler's result, kept in zp_handled, picks the way on: 0 runs the
// game's callee (through the continuation word `stock`) on the game's own
// return address, anything else skips it. Decided before POPFD, so the game
// keeps its flags; EAX is as it was at the call either way.
.macro CALLEE_OR_SKIP stock
        cmp     dword ptr [SYM(zp_handled)], 0
        jne     1f
        popad
        popfd
        jmp     dword ptr [\stock]
1:      popad
        popfd
        ret
.endm

// Freecam stub, reached by a call at 0x4415b9 or 0x44143c with the camera
// object in EAX. Full save: the handler does floating-point work.
        .p2align 4
LOCAL(z9_zp_freecam_hook)
SYM(z9_zp_freecam_hook):
        SAVE_FULL
        push    dword ptr [ebx + 28]            // the game's EAX: the camera object
        call    SYM(z9_zp_freecam_tick)
        add     esp, 4
        mov     dword ptr [SYM(zp_handled)], eax
        RESTORE_FPU
        CALLEE_OR_SKIP SYM(zp_freecam_stock)

// Arm stub, reached by the calls at 0x5112dc, 0x512310 and 0x5124dd. Light
// save: the handler does no floating-point work.
        .p2align 4
LOCAL(z9_zp_arm_hook)
SYM(z9_zp_arm_hook):
        pushfd
        pushad
        call    SYM(z9_zp_ui_suppressed)
        mov     dword ptr [SYM(zp_handled)], eax
        CALLEE_OR_SKIP SYM(zp_arm_stock)

// Capture stub, jumped to from the first 8 bytes of the game routine at
// 0x51bbe0 as the replay advances a tick. After the handler it performs the
// prologue those bytes held and resumes the routine at 0x51bbe8.
        .p2align 4
LOCAL(z9_zp_capture_hook)
SYM(z9_zp_capture_hook):
        SAVE_FULL
        call    SYM(z9_zp_capture)
        RESTORE_FPU
        popad
        popfd
        push    ebx                             // 53       the displaced prologue, in order
        push    ecx                             // 51
        push    edx                             // 52
        push    esi                             // 56
        push    edi                             // 57
        push    ebp                             // 55
        mov     ebp, esp                        // 89 e5
        jmp     dword ptr [SYM(zp_tick_resume)]

// Frame stub, reached by the call at 0x511328. The game's callee takes no
// stack arguments and its result is unused there, so the stub runs it first,
// with every register as the game left it, then the handler; the game sees
// its registers as they were at the call.
        .p2align 4
LOCAL(z9_zp_frame_hook)
SYM(z9_zp_frame_hook):
        pushfd
        pushad
        call    dword ptr [SYM(zp_aux_stock)]
        call    SYM(z9_zp_frame)
        popad
        popfd
        ret

#if !defined(_WIN32)
        .section .note.GNU-stack, "", @progbits
#endif
