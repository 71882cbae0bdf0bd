#!/usr/bin/env python3
"""Writes a deterministic, realistic mailing list: one address per line, each
line ended by CR LF.

Most lines are addresses of made-up people at made-up domains; some have
capitals, some blanks or tabs around them, some are invalid (no '@', or
empty), and a share repeats an earlier line byte for byte. The same seed and
line count always give the same file, so runs can be compared.

    gen_lists.py OUT LINES [--seed N] [--repeats 0.30] [--invalid 0.03]
"""
import argparse
import sys

MASK = (1 << 64) - 1

SYLLABLES = [
    "li", "wang", "zhang", "liu", "chen", "yang", "zhao", "huang", "zhou", "wu",
    "xu", "sun", "hu", "zhu", "gao", "lin", "he", "guo", "ma", "luo", "liang",
    "song", "zheng", "xie", "han", "tang", "feng", "yu", "dong", "xiao", "cheng",
    "cao", "yuan", "deng", "fu", "shen", "zeng", "peng", "lu", "su", "jiang",
    "cai", "jia", "ding", "wei", "ye", "yan", "pan", "du", "dai", "xia", "zhong",
    "tian", "ren", "jiang", "fan", "fang", "shi", "yao", "tan", "sheng", "zou",
    "mike", "anna", "john", "lucy", "tom", "mary", "peter", "linda", "david",
    "sales", "info", "admin", "service", "office", "hr", "support", "news",
]
HOSTS = [
    "example", "mail.example", "corp.example", "shop.example", "news.example",
    "sample", "mx.sample", "demo", "post.demo", "test", "inbox.test", "acme",
    "mail.acme", "globex", "initech", "umbrella", "hooli", "vandelay", "wayne",
]
TLDS = [".com", ".cn", ".com.cn", ".net", ".org", ".net.cn", ".com", ".cn",
        ".com", ".cn", ".edu.cn", ".gov.cn", ".info", ".com.tw", ".com.hk"]
SEPARATORS = ["", ".", "_", "-", ""]
BLANKS = [" ", "  ", "\t", " \t", "   "]


def mix(x):
    """splitmix64: a well-spread 64-bit hash of x."""
    x = (x + 0x9E3779B97F4A7C15) & MASK
    x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & MASK
    return x ^ (x >> 31)


class ListShape:
    def __init__(self, seed, repeats, invalid):
        self.seed = mix(seed)
        self.repeats = int(repeats * 1_000_000)
        self.invalid = int(invalid * 1_000_000)

    def address(self, h):
        s = SYLLABLES
        name = s[h % len(s)]
        h //= len(s)
        if h & 1:
            name += SEPARATORS[(h >> 1) % len(SEPARATORS)] + s[(h >> 4) % len(s)]
        h >>= 11
        if h % 4 != 0:
            name += str((h >> 2) % 10000)
        h >>= 16
        return name + "@" + HOSTS[h % len(HOSTS)] + TLDS[(h >> 5) % len(TLDS)]

    def fresh_line(self, i):
        h = mix(self.seed ^ (i * 0x2545F4914F6CDD1D & MASK))
        look = mix(h)  # independent bits for the line's decoration
        kind = look % 1_000_000
        line = self.address(h)
        if kind < self.invalid:
            # Invalid lines: a name without '@', a spelled-out at, or nothing.
            return ["", line.split("@")[0], line.replace("@", " at ")][(look >> 20) % 3]
        look >>= 20
        if look % 10 == 0:
            line = line.upper() if look % 30 == 0 else line.capitalize()
        look >>= 8
        if look % 20 == 0:
            look >>= 8
            blank = BLANKS[look % len(BLANKS)]
            line = blank + line if look & 8 else line + blank
        return line

    def line(self, i):
        # A repeat copies an earlier line; following the chain of repeats
        # back to a fresh line keeps every line a pure function of its number.
        while i > 0:
            r = mix(self.seed + 1 + i) % (1 << 40)
            if (r % 1_000_000) >= self.repeats:
                break
            i = (r >> 20) % i
        return self.fresh_line(i)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("out")
    p.add_argument("lines", type=int)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--repeats", type=float, default=0.30)
    p.add_argument("--invalid", type=float, default=0.03)
    a = p.parse_args()
    shape = ListShape(a.seed, a.repeats, a.invalid)
    with open(a.out, "wb") as f:
        batch = 100_000
        for start in range(0, a.lines, batch):
            chunk = [shape.line(i) for i in range(start, min(start + batch, a.lines))]
            f.write(("\r\n".join(chunk) + "\r\n").encode("ascii"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
