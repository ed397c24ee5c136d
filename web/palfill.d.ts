/** How a conversion ended; 'finished' is the only success. */
export type Result =
  | 'finished'
  | 'not_png'
  | 'unexpected_eof'
  | 'clut_unexpected_eof'
  | 'unknown_depth'
  | 'not_a_clut'
  | 'out_of_memory';

export declare const RESULTS: readonly Result[];

/** The library's version, such as "1.1.0". */
export declare const version: string;

/**
 * Gives `png` its palette from `clut` (a CLUT file's bytes) or, without one,
 * from the 128 default colours. `bytes` holds what the palfill command leaves
 * in its output file for the same input: the whole image, the chunks before
 * the damage, or nothing.
 */
export declare function convert(png: Uint8Array, clut?: Uint8Array | null): {
  result: Result;
  bytes: Uint8Array;
};

/** The CRC-32 of `bytes`, as zip and PNG files store it. */
export declare function crc32(bytes: Uint8Array): number;
