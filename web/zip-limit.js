// The largest zip the page hands to a download: browsers cancel larger
// ones. The page test builds a page whose limit is small, to see an
// archive come past one download.
export const zipLimit = 240 * 1024 * 1024;
