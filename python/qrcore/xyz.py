"""XYZ survey files (placeholder until the scanner's interface is bound)."""
