#!/usr/bin/perl
# SPDX-License-Identifier: MIT
# Writes the deterministic placeholder firmware image: 512,000 bytes that look
# like firmware (a header, then pseudo-random code bytes), the same on every
# machine, so that builds and checksums repeat.
use strict;
use warnings;
my ($out, $version) = @ARGV;
die "usage: make_placeholder_image.pl OUT VERSION\n" unless defined $version;
open(my $fh, '>:raw', $out) or die "cannot write $out: $!\n";
my $header = sprintf("BRIVELTON PLACEHOLDER FIRMWARE %s\0", $version);
my $data = $header;
my $x = 0x2545F491;
while (length($data) < 512000) {
  $x = ($x * 1103515245 + 12345) & 0x7FFFFFFF;
  $data .= chr(($x >> 16) & 0xFF);
}
print $fh substr($data, 0, 512000);
close($fh) or die "cannot write $out: $!\n";
