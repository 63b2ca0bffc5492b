// Words SPIM 8.0 reads as its own instructions and directives: none of them
// can be a label (each was tried as a label in SPIM: tests/check/spim-reserved.txt
// and the directive names with their dot).  Sorted, for binary search.
#pragma once

#include <string_view>

namespace qv::check {

inline constexpr std::string_view kSpimWords[] = {
    ".alias", ".align", ".ascii", ".asciiz", ".bgnb", ".byte", ".comm", ".data", ".double", ".end",
    ".endb", ".endr", ".ent", ".extern", ".file", ".float", ".fmask", ".frame", ".globl", ".half",
    ".kdata", ".ktext", ".lab", ".lcomm", ".livereg", ".loc", ".mask", ".option", ".rdata",
    ".repeat", ".sdata", ".set", ".space", ".struct", ".text", ".verstamp", ".word", "abs", "abs.d",
    "abs.ps", "abs.s", "add", "add.d", "add.ps", "add.s", "addi", "addiu", "addu", "alnv.ps", "and",
    "andi", "b", "bal", "bc1f", "bc1fl", "bc1t", "bc1tl", "bc2f", "bc2fl", "bc2t", "bc2tl", "beq",
    "beql", "beqz", "bge", "bgeu", "bgez", "bgezal", "bgezall", "bgezl", "bgt", "bgtu", "bgtz",
    "bgtzl", "ble", "bleu", "blez", "blezl", "blt", "bltu", "bltz", "bltzal", "bltzall", "bltzl",
    "bne", "bnel", "bnez", "break", "c.eq.d", "c.eq.ps", "c.eq.s", "c.f.d", "c.f.ps", "c.f.s",
    "c.le.d", "c.le.ps", "c.le.s", "c.lt.d", "c.lt.ps", "c.lt.s", "c.nge.d", "c.nge.ps", "c.nge.s",
    "c.ngl.d", "c.ngl.ps", "c.ngl.s", "c.ngle.d", "c.ngle.ps", "c.ngle.s", "c.ngt.d", "c.ngt.ps",
    "c.ngt.s", "c.ole.d", "c.ole.ps", "c.ole.s", "c.olt.d", "c.olt.ps", "c.olt.s", "c.seq.d",
    "c.seq.ps", "c.seq.s", "c.sf.d", "c.sf.ps", "c.sf.s", "c.ueq.d", "c.ueq.ps", "c.ueq.s",
    "c.ule.d", "c.ule.ps", "c.ule.s", "c.ult.d", "c.ult.ps", "c.ult.s", "c.un.d", "c.un.ps",
    "c.un.s", "cache", "ceil.l.d", "ceil.l.s", "ceil.w.d", "ceil.w.s", "cfc0", "cfc1", "cfc2",
    "clo", "clz", "cop2", "ctc0", "ctc1", "ctc2", "cvt.d.l", "cvt.d.s", "cvt.d.w", "cvt.l.d",
    "cvt.l.s", "cvt.ps.s", "cvt.s.d", "cvt.s.l", "cvt.s.pl", "cvt.s.pu", "cvt.s.w", "cvt.w.d",
    "cvt.w.s", "deret", "di", "div", "div.d", "div.s", "divu", "ehb", "ei", "eret", "ext",
    "floor.l.d", "floor.l.s", "floor.w.d", "floor.w.s", "ins", "j", "jal", "jalr", "jalr.hb", "jr",
    "jr.hb", "l.d", "l.s", "la", "lb", "lbu", "ld", "ldc1", "ldc2", "ldxc1", "lh", "lhu", "li",
    "li.d", "li.s", "ll", "lui", "luxc1", "lw", "lwc1", "lwc2", "lwl", "lwr", "lwxc1", "madd",
    "madd.d", "madd.ps", "madd.s", "maddu", "mfc0", "mfc1", "mfc1.d", "mfc2", "mfhc1", "mfhc2",
    "mfhi", "mflo", "mov.d", "mov.ps", "mov.s", "move", "movf", "movf.d", "movf.ps", "movf.s",
    "movn", "movn.d", "movn.ps", "movn.s", "movt", "movt.d", "movt.ps", "movt.s", "movz", "movz.d",
    "movz.ps", "movz.s", "msub", "msub.d", "msub.ps", "msub.s", "msubu", "mtc0", "mtc1", "mtc1.d",
    "mtc2", "mthc1", "mthc2", "mthi", "mtlo", "mul", "mul.d", "mul.ps", "mul.s", "mulo", "mulou",
    "mult", "multu", "neg", "neg.d", "neg.ps", "neg.s", "negu", "nmadd.d", "nmadd.ps", "nmadd.s",
    "nmsub.d", "nmsub.ps", "nmsub.s", "nop", "nor", "not", "or", "ori", "pll.ps", "plu.ps", "pref",
    "prefx", "pul.ps", "puu.ps", "rdhwr", "rdpgpr", "recip.d", "recip.s", "rem", "remu", "rfe",
    "rol", "ror", "rotr", "rotrv", "round.l.d", "round.l.s", "round.w.d", "round.w.s", "rsqrt.d",
    "rsqrt.s", "s.d", "s.s", "sb", "sc", "sd", "sdbbp", "sdc1", "sdc2", "sdxc1", "seb", "seh",
    "seq", "sge", "sgeu", "sgt", "sgtu", "sh", "sle", "sleu", "sll", "sllv", "slt", "slti", "sltiu",
    "sltu", "sne", "sqrt.d", "sqrt.s", "sra", "srav", "srl", "srlv", "ssnop", "sub", "sub.d",
    "sub.ps", "sub.s", "subu", "suxc1", "sw", "swc1", "swc2", "swl", "swr", "swxc1", "sync",
    "synci", "syscall", "teq", "teqi", "tge", "tgei", "tgeiu", "tgeu", "tlbp", "tlbr", "tlbwi",
    "tlbwr", "tlt", "tlti", "tltiu", "tltu", "tne", "tnei", "trunc.l.d", "trunc.l.s", "trunc.w.d",
    "trunc.w.s", "ulh", "ulhu", "ulw", "ush", "usw", "wrpgpr", "wsbh", "xor", "xori",
};

}  // namespace qv::check
