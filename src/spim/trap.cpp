#include "spim/trap.h"

namespace qv::spim {

namespace {

// Kept in step with kCtlFd, kGoFd and kTrapStatus.
constexpr std::string_view kTrap = R"(# quorvelin-run: exception handler and start-up code
	.kdata
__qv_rec:	.word 0, 0, 0, 0, 0, 0
	.ktext 0x80000180
# Any exception ends the run: report Cause, EPC, BadVAddr, $ra, $fp and $sp
# to the runner, then the addresses of the program's labels, by which it
# names the line, then the frame chain, and exit.
	mfc0 $k0, $13
	la $k1, __qv_rec
	sw $k0, 0($k1)
	mfc0 $k0, $14
	sw $k0, 4($k1)
	mfc0 $k0, $8
	sw $k0, 8($k1)
	sw $ra, 12($k1)
	sw $fp, 16($k1)
	sw $sp, 20($k1)
# The debugger stops here, where the program's registers are still as the
# exception left them (a breakpoint overwrites Cause, saved above).
	.globl __qv_saved
__qv_saved:
	li $v0, 15
	li $a0, 3
	move $a1, $k1
	li $a2, 24
	syscall
	li $v0, 15
	li $a0, 3
	la $a1, __qvmap
	la $a2, __qvmapend
	subu $a2, $a2, $a1
	syscall
# The chain: at each frame pointer F the caller's frame pointer and the
# return address, 8 bytes written as they are.  Only words that a frame was
# built at are read: aligned, rising from $fp (which must lie at or above
# $sp) to the top of the stack; the start-up frame points at itself.  With
# Cause 0 no exception came here: the runner started the handler by hand
# after a stack overflow, and $sp no longer holds what it held.
	move $k0, $fp
	andi $k1, $k0, 3
	bnez $k1, __qv_done
	mfc0 $k1, $13
	andi $k1, $k1, 0x7c
	beqz $k1, __qv_walk
	sltu $k1, $k0, $sp
	bnez $k1, __qv_done
__qv_walk:
	andi $k1, $k0, 3
	bnez $k1, __qv_done
	li $k1, 0x7ffffff8
	sltu $k1, $k1, $k0
	bnez $k1, __qv_done
	li $v0, 15
	li $a0, 3
	move $a1, $k0
	li $a2, 8
	syscall
	lw $k1, 0($k0)
	sltu $t0, $k0, $k1
	move $k0, $k1
	bnez $t0, __qv_walk
__qv_done:
	li $v0, 17
	li $a0, 86
	syscall

	.data
__qv_byte:	.byte 82
	.text
	.globl __start
# Loading is over when this runs: say so, wait for the go-ahead, then start
# the program as SPIM's own start-up code does.
__start:
	li $v0, 15
	li $a0, 3
	la $a1, __qv_byte
	li $a2, 1
	syscall
	li $v0, 14
	li $a0, 4
	la $a1, __qv_byte
	li $a2, 1
	syscall
	li $t0, 1
	bne $v0, $t0, __qv_quit
	lw $a0, 0($sp)
	addiu $a1, $sp, 4
	addiu $a2, $a1, 4
	sll $v0, $a0, 2
	addu $a2, $a2, $v0
	jal main
	nop
__qv_quit:
	li $v0, 10
	syscall
)";

}  // namespace

std::string_view trap_file() { return kTrap; }

std::vector<std::string> trap_labels() {
  return {"__start", "__qv_rec", "__qv_saved", "__qv_byte", "__qv_quit", "__qv_walk", "__qv_done", "__qvmap", "__qvmapend"};
}

}  // namespace qv::spim
