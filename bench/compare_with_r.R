# Cross-check of kelvorin's batch reports against R.
#
# Draws random two-way tables (2 x 2 up to 4 x 5, small totals) and one-way
# tables (a single row or column of 2 to 6 categories, with and without
# weights), writes them to one data file, runs `kelvorin --batch` on it with
# every report section on, and compares each table's report line by line with
# a report built here in R:
#   - the exact tallies from R's own enumeration of every table with the same
#     margins (or every way of spreading n over k categories): probability
#     from factorials, both statistics cell by cell, the relative-tolerance
#     tally rule (1e-10 for probabilities, 1e-9 for statistics);
#   - the probability-ordering p value also against fisher.test();
#   - the approximate tests against pchisq() and against a transcription of
#     the program's documented series / continued-fraction routine;
#   - the 2 x 2 Fisher lines against phyper()/dhyper() and fisher.test();
#   - the descriptive tables, the degrees of freedom, the smallest expected
#     count and the number of sample points.
# The reference follows the program's documented rules; where a line agrees
# with the reference but not with R's own function (fisher.test's tolerance,
# pchisq's precision, the 2 x 2 two-tailed definitions) it is listed apart
# and is not counted as a difference.
#
# Usage:
#   Rscript bench/compare_with_r.R --program PATH [--seed S] [--two N] [--one N]
#           [--max-points M] [--keep DIR] [--network-from LIST]
# LIST: comma-separated values of KELVORIN_NETWORK_FROM, one program run each
# ("default" leaves it unset; the default list "default,0" runs the program
# once with its own choice of algorithm and once with the network algorithm
# wherever it applies).
# Exit status: 0 when every line agrees, 1 when any difference was found,
# 2 for a usage or run error.

args <- commandArgs(trailingOnly = TRUE)
opt <- list(program = "build/shell/kelvorin", seed = 1L, two = 100L, one = 40L,
            max_points = 200000, keep = NA_character_, network_from = "default,0")
i <- 1
while (i <= length(args)) {
  a <- args[i]
  val <- if (i < length(args)) args[i + 1] else NA
  switch(a,
    "--program" = { opt$program <- val; i <- i + 1 },
    "--seed" = { opt$seed <- as.integer(val); i <- i + 1 },
    "--two" = { opt$two <- as.integer(val); i <- i + 1 },
    "--one" = { opt$one <- as.integer(val); i <- i + 1 },
    "--max-points" = { opt$max_points <- as.numeric(val); i <- i + 1 },
    "--keep" = { opt$keep <- val; i <- i + 1 },
    "--network-from" = { opt$network_from <- val; i <- i + 1 },
    { cat("unknown argument:", a, "\n"); quit(status = 2) })
  i <- i + 1
}

## ---------------------------------------------------------------------------
## Enumeration

# All compositions of n into length(u) parts with 0 <= x_j <= u_j, one per row;
# NULL as soon as there are more than `cap` (every partial composition kept
# here can be completed, so none is counted that does not exist).
bounded_compositions <- function(n, u, cap = Inf) {
  c <- length(u)
  suffix <- rev(cumsum(rev(u)))          # suffix[j] = u_j + ... + u_c
  m <- matrix(integer(0), nrow = 1, ncol = 0)
  left <- n
  for (j in seq_len(c)) {
    if (j == c) {
      ok <- left <= u[c]
      m <- cbind(m[ok, , drop = FALSE], left[ok])
      break
    }
    rest_cap <- if (j < c) suffix[j + 1] else 0
    parts <- lapply(seq_along(left), function(s) {
      lo <- max(0, left[s] - rest_cap)
      hi <- min(left[s], u[j])
      if (lo > hi) integer(0) else lo:hi
    })
    len <- lengths(parts)
    idx <- rep(seq_along(left), len)
    x <- unlist(parts)
    if (length(x) > cap) return(NULL)
    m <- cbind(m[idx, , drop = FALSE], x)
    left <- left[idx] - x
  }
  storage.mode(m) <- "integer"
  unname(m)
}

# Every r x c table with row totals R and column totals C, one table per row
# of the result, cells in row-major order; NULL when there would be more than
# `cap` tables.
enumerate_tables <- function(R, C, cap) {
  r <- length(R); c <- length(C)
  cells <- matrix(integer(0), nrow = 1, ncol = 0)
  rem <- matrix(as.integer(C), nrow = 1)
  for (i in seq_len(r - 1)) {
    key <- apply(rem, 1, paste, collapse = ",")
    groups <- split(seq_len(nrow(rem)), key)
    new_cells <- list(); new_rem <- list()
    total <- 0
    for (g in groups) {
      u <- rem[g[1], ]
      comp <- bounded_compositions(R[i], u, cap - total)
      if (is.null(comp)) return(NULL)
      if (nrow(comp) == 0) next
      total <- total + length(g) * nrow(comp)
      if (total > cap) return(NULL)
      a <- rep(g, each = nrow(comp))
      b <- rep(seq_len(nrow(comp)), times = length(g))
      new_cells[[length(new_cells) + 1]] <- cbind(cells[a, , drop = FALSE], comp[b, , drop = FALSE])
      new_rem[[length(new_rem) + 1]] <- rem[a, , drop = FALSE] - comp[b, , drop = FALSE]
    }
    cells <- do.call(rbind, new_cells)
    rem <- do.call(rbind, new_rem)
  }
  # the last row takes what is left
  cells <- cbind(cells, rem)
  storage.mode(cells) <- "integer"
  unname(cells)
}

# Every vector of k non-negative counts adding up to n.
enumerate_categories <- function(k, n) bounded_compositions(n, rep(n, k))

## ---------------------------------------------------------------------------
## Statistics, probabilities and the tally rule

# Relative-tolerance tally of values a (one per sample point, weights p)
# against the observed value b.
tally <- function(a, b, p, t, probability) {
  s <- a + b
  use <- if (probability) s > 0 else s != 0
  d <- ifelse(use, abs(a - b) / s, 0)
  eq <- d < t
  gt <- !eq & a >= b
  lt <- !eq & !gt
  # distance of the closest point to the edge of the tolerance band, for
  # telling a real difference from a knife-edge one
  near <- any(use & d > t * 0.999 & d < t * 1.001)
  list(greater = sum(gt), equal = sum(eq), less = sum(lt),
       gmass = sum(p[gt]), emass = sum(p[eq]), lmass = sum(p[lt]), near_edge = near)
}

# Two-way statistics of each table (rows of `cells`, row-major).
twoway_stats <- function(cells, R, C) {
  r <- length(R); c <- length(C); N <- sum(R)
  e <- as.vector(t(outer(R, C) / N))     # row-major expected counts
  E <- matrix(e, nrow = nrow(cells), ncol = length(e), byrow = TRUE)
  O <- cells * 1.0
  g_terms <- ifelse(O > 0, O * log(O / E), 0)
  x_terms <- (O - E)^2 / E
  list(G2 = 2 * rowSums(g_terms), X2 = rowSums(x_terms))
}

twoway_prob <- function(cells, R, C) {
  N <- sum(R)
  lconst <- sum(lfactorial(R)) + sum(lfactorial(C)) - lfactorial(N)
  exp(lconst - rowSums(lfactorial(cells)))
}

oneway_stats <- function(x, prop) {
  n <- rowSums(x) * 1.0
  E <- outer(n, prop)
  g_terms <- ifelse(x > 0, x * log(x / E), 0)
  list(G2 = 2 * rowSums(g_terms), X2 = rowSums((x - E)^2 / E))
}

oneway_prob <- function(x, prop) {
  n <- rowSums(x)
  lp <- ifelse(x > 0, sweep(x, 2, log(prop), "*"), 0)
  exp(lfactorial(n) - rowSums(lfactorial(x)) + rowSums(lp))
}

## The chi-square distribution function as the program documents it: the
## series below a + 1, the continued fraction above, relative tolerance 1e-13,
## at most max(100, 10 sqrt(a)) iterations, the six-term log-gamma.
nr_loggamma <- function(xx) {
  cof <- c(76.18009173, -86.50532033, 24.01409822, -1.231739516, 0.120858003e-2, -0.536382e-5)
  x <- xx - 1; tmp <- x + 5.5; tmp <- tmp - (x + 0.5) * log(tmp); ser <- 1
  for (cc in cof) { x <- x + 1; ser <- ser + cc / x }
  log(2.50662827465 * ser) - tmp
}
nr_gammp <- function(a, x) {
  EPS <- 1e-13
  itmax <- max(100, ceiling(10 * sqrt(a)))
  gln <- nr_loggamma(a)
  if (x < a + 1) {
    if (x <= 0) return(0)
    ap <- a; del <- 1 / a; sum <- del
    for (n in 1:itmax) {
      ap <- ap + 1; del <- del * (x / ap); sum <- sum + del
      if (abs(del) < abs(sum) * EPS) return(sum * exp(-x + a * log(x) - gln))
    }
    return(NA_real_)
  }
  gold <- 0; a0 <- 1; a1 <- x; b0 <- 0; b1 <- 1; fac <- 1
  for (n in 1:itmax) {
    an <- n; ana <- an - a
    a0 <- (a0 * ana + a1) * fac; b0 <- (b0 * ana + b1) * fac
    anf <- an * fac
    a1 <- x * a0 + anf * a1; b1 <- x * b0 + anf * b1
    if (a1 != 0) {
      fac <- 1 / a1; g <- b1 * fac
      if (abs((g - gold) / g) < EPS) return(1 - exp(-x + a * log(x) - gln) * g)
      gold <- g
    }
  }
  NA_real_
}
nr_pvalue <- function(s, df) 1 - nr_gammp(0.5 * df, 0.5 * s)

## ---------------------------------------------------------------------------
## Random tables

rint <- function(lo, hi) if (lo >= hi) lo else sample(lo:hi, 1)

draw_twoway <- function(kind, r, c, N) {
  cells <- switch(kind,
    uniform = rmultinom(1, N, rep(1, r * c)),
    sparse = {
      p <- rep(1, r * c); z <- sample(r * c, floor(r * c / 2)); p[z] <- 0.02
      rmultinom(1, N, p)
    },
    skewed = rmultinom(1, N, rexp(r * c)^3),
    nearindep = {
      pr <- runif(r, 0.5, 1.5); pc <- runif(c, 0.5, 1.5)
      rmultinom(1, N, as.vector(t(outer(pr, pc))))
    },
    exactindep = {
      # counts proportional to outer products of small whole numbers
      a <- sample(1:3, r, TRUE); b <- sample(1:3, c, TRUE)
      as.vector(t(outer(a, b))) * sample(1:3, 1)
    },
    ties = {
      # repeated rows and columns: many tables share the observed values
      base <- sample(0:4, c, TRUE); base[sample(c, 1)] <- base[1] + 1
      m <- matrix(base, nrow = r, ncol = c, byrow = TRUE)
      if (r > 1) m[r, ] <- rev(base)
      as.vector(t(m))
    },
    diagonal = {
      m <- matrix(0L, r, c)
      for (k in 1:max(r, c)) m[(k - 1) %% r + 1, (k - 1) %% c + 1] <- rint(1, 3)
      as.vector(t(m))
    })
  matrix(as.integer(cells), nrow = r, ncol = c, byrow = TRUE)
}

twoway_total_for <- function(r, c) {
  # totals that keep the number of tables with the same margins in reach
  # (tables over the sample-point limit are drawn again)
  cap <- c(`2x2` = 300, `2x3` = 150, `2x4` = 80, `2x5` = 50, `3x2` = 150, `3x3` = 60,
           `3x4` = 36, `3x5` = 28, `4x2` = 80, `4x3` = 36, `4x4` = 28, `4x5` = 23,
           `5x2` = 50, `5x3` = 28, `5x4` = 23)
  hi <- cap[[paste0(r, "x", c)]]; lo <- max(r, c)
  if (runif(1) < 0.5) return(rint(lo, hi))
  round(exp(runif(1, log(lo), log(hi))))   # log-uniform: small and large totals
}

make_twoway <- function(cap) {
  repeat {
    shape <- sample(list(c(2, 2), c(2, 2), c(2, 3), c(3, 2), c(2, 4), c(2, 5), c(3, 3),
                         c(3, 4), c(4, 3), c(3, 5), c(4, 4), c(4, 5), c(5, 2)), 1)[[1]]
    r <- shape[1]; c <- shape[2]
    kind <- sample(c("uniform", "uniform", "sparse", "skewed", "nearindep", "exactindep",
                     "ties", "diagonal"), 1)
    N <- twoway_total_for(r, c)
    repeat {
      # a table with too many sample points is drawn again with a smaller
      # total, so that many tables come close to the limit
      m <- draw_twoway(kind, r, c, N)
      if (any(rowSums(m) == 0) || any(colSums(m) == 0)) break
      tabs <- enumerate_tables(rowSums(m), colSums(m), cap)
      if (!is.null(tabs)) return(list(type = "two", kind = kind, m = m, tables = tabs))
      N <- floor(N * 0.85)
      if (N < max(r, c)) break
    }
  }
}

make_oneway <- function(cap) {
  repeat {
    k <- rint(2, 6)
    nmax <- c(40, 40, 40, 40, 25)[k - 1]
    n <- rint(1, nmax)
    if (choose(n + k - 1, k - 1) > cap) next
    kind <- sample(c("uniform", "skewed", "allinone", "equal"), 1)
    x <- switch(kind,
      uniform = as.vector(rmultinom(1, n, rep(1, k))),
      skewed = as.vector(rmultinom(1, n, rexp(k)^2)),
      allinone = { v <- rep(0L, k); v[sample(k, 1)] <- n; v },
      equal = { v <- rep(n %/% k, k); v[1] <- v[1] + n %% k; v })
    wkind <- sample(c("none", "none", "small", "percent", "common", "ones"), 1)
    w <- switch(wkind,
      none = NULL,
      small = sample(1:9, k, TRUE),
      percent = {                   # decimal proportions written as whole numbers
        p <- sample(1:19, k, TRUE); p <- floor(p / sum(p) * 100); p[1] <- p[1] + 100 - sum(p); p
      },
      common = sample(1:4, k, TRUE) * 5L,
      ones = rep(1L, k))
    if (!is.null(w) && any(w <= 0)) next
    column <- runif(1) < 0.25       # a single column instead of a single row
    prop <- if (is.null(w)) rep(1, k) else as.numeric(w)
    prop <- prop / sum(prop)
    return(list(type = "one", kind = paste(kind, wkind), x = as.integer(x), w = w,
                column = column, w_per_line = runif(1) < 0.5, prop = prop, tables = enumerate_categories(k, n)))
  }
}

## ---------------------------------------------------------------------------
## The expected report of one table, as lines with the reference values

# An expected line: the printf format, the reference values in order, and
# optionally a second set of values from R's own functions (same format).
L <- function(fmt, ..., alt = NULL, tag = "") list(fmt = fmt, vals = list(...), alt = alt, tag = tag)
T <- function(text) list(fmt = gsub("%", "%%", text, fixed = TRUE), vals = list(), alt = NULL, tag = "")

table_block <- function(title, cellfmt, cellv, rightfmt, rightv, bottomfmt, bottomv, grandfmt, grandv) {
  r <- nrow(cellv); c <- ncol(cellv)
  out <- list(T(title))
  for (i in seq_len(r)) {
    f <- paste(rep(cellfmt, c), collapse = "")
    v <- as.list(cellv[i, ])
    if (c > 1) { f <- paste0(f, "  | ", rightfmt); v <- c(v, rightv[i]) }
    out[[length(out) + 1]] <- do.call(L, c(list(f), v, list(tag = title)))
  }
  if (r > 1) {
    out[[length(out) + 1]] <- T(paste0("--", strrep("------", c), if (c > 1) "+-------" else ""))
    f <- paste(rep(bottomfmt, c), collapse = ""); v <- as.list(bottomv)
    if (c > 1) { f <- paste0(f, "  | ", grandfmt); v <- c(v, grandv) }
    out[[length(out) + 1]] <- do.call(L, c(list(f), v, list(tag = title)))
  }
  c(out, list(T("")))
}

expected_report <- function(tb) {
  out <- list()
  add <- function(...) out <<- c(out, list(...))
  addl <- function(l) out <<- c(out, l)
  if (tb$type == "two") {
    m <- tb$m; r <- nrow(m); c <- ncol(m)
    R <- rowSums(m); C <- colSums(m); N <- sum(m)
    E <- outer(R, C) / N
    twoway <- TRUE
  } else {
    k <- length(tb$x); N <- sum(tb$x)
    if (tb$column) { m <- matrix(tb$x, ncol = 1) } else { m <- matrix(tb$x, nrow = 1) }
    r <- nrow(m); c <- ncol(m); R <- rowSums(m); C <- colSums(m)
    E <- matrix(N * tb$prop, nrow = r, ncol = c)
    twoway <- FALSE
  }
  # descriptive tables
  addl(table_block("Observed Numbers.", " %5d", m, " %5d", R, " %5d", C, " %5d", N))
  addl(table_block("Expected Numbers.", " %5.1f", E, " %5d", R, " %5d", C, " %5d", N))
  if (r >= 2) {
    colp <- sweep(m, 2, 100 / C, "*")
    addl(table_block("Column percentages.", " %5.1f", colp, " %5.1f", R * 100 / N,
                     " %5.1f", rep(100, c), " %5.1f", 100))
  }
  if (c >= 2) {
    rowp <- sweep(m, 1, 100 / R, "*")
    addl(table_block("Row percentages.", " %5.1f", rowp, " %5.1f", rep(100, r),
                     " %5.1f", C * (100 / N), " %5.1f", 100))
  }
  # exact tests from the enumeration
  tabs <- tb$tables
  if (twoway) {
    p <- twoway_prob(tabs, R, C)
    st <- twoway_stats(tabs, R, C)
    obs <- as.vector(t(m))
    pobs <- twoway_prob(matrix(obs, nrow = 1), R, C)
    sobs <- twoway_stats(matrix(obs, nrow = 1), R, C)
    df <- (r - 1) * (c - 1)
  } else {
    p <- oneway_prob(tabs, tb$prop)
    st <- oneway_stats(tabs, tb$prop)
    pobs <- oneway_prob(matrix(tb$x, nrow = 1), tb$prop)
    sobs <- oneway_stats(matrix(tb$x, nrow = 1), tb$prop)
    df <- length(tb$x) - 1
  }
  tg <- tally(st$G2, sobs$G2, p, 1e-9, FALSE)
  tx <- tally(st$X2, sobs$X2, p, 1e-9, FALSE)
  tp <- tally(p, pobs, p, 1e-10, TRUE)
  fisher_r <- if (twoway) tryCatch(fisher.test(m, workspace = 2e7)$p.value, error = function(e) NA) else NULL
  add(T(""), T("Exact (multi tailed) Likelihood Ratio "),
      L("  Greater than:%9d points with prob. %9.6f", tg$greater, tg$gmass, tag = "exactLR"),
      L("  Equal to:    %9d points with prob. %9.6f", tg$equal, tg$emass, tag = "exactLR"),
      L("  Less than:   %9d points with prob. %9.6f", tg$less, tg$lmass, tag = "exactLR"),
      L(" ==>  Significance (recommended)     p =   %9.6f <==", tg$emass + tg$gmass, tag = "exactLR"),
      T(""))
  add(T("Exact (multi tailed) Chi Square "),
      L("  Greater than:%9d points with prob. %9.6f", tx$greater, tx$gmass, tag = "exactX2"),
      L("  Equal to:    %9d points with prob  %9.6f", tx$equal, tx$emass, tag = "exactX2"),
      L("  Less than:   %9d points with prob. %9.6f", tx$less, tx$lmass, tag = "exactX2"),
      L(" -->  Significance                   p =   %9.6f <--", tx$emass + tx$gmass, tag = "exactX2"),
      T(""))
  add(T("Exact (multi tailed) Fisher test "),
      L("  Less prob:   %9d points with prob. %9.6f", tp$less, tp$lmass, tag = "exactP"),
      L("  Same prob:   %9d points with prob. %9.6f", tp$equal, tp$emass, tag = "exactP"),
      L("  Greater prob:%9d points with prob. %9.6f", tp$greater, tp$gmass, tag = "exactP"),
      L(" -->  Significance                   p =   %9.6f <--", tp$lmass + tp$emass,
        alt = if (!is.null(fisher_r)) list(fisher_r) else NULL, tag = "exactP"),
      T(" This value is used by many statistical"),
      T(" programs - like SPSS, Stata, SAS and R"),
      T(""))
  # approximate tests
  minexp <- min(E)
  yates <- twoway && df == 1
  if (yates) {
    a <- m[1, 1]; b <- m[1, 2]; cc <- m[2, 1]; d <- m[2, 2]
    # The continuity correction never goes past 0: |ad - bc| - N/2 stops at
    # 0, and each count moves by 1/2 towards its expected count but not
    # beyond it (the program's rule, as chisq.test stops Pearson's; R has no
    # corrected likelihood ratio of its own).
    x2y <- max(0, abs(a * d - b * cc) - 0.5 * N)^2 * N / C[1] / C[2] / R[1] / R[2]
    e <- as.vector(t(E))
    o <- as.vector(t(m)) * 1.0
    o <- ifelse(o > e, pmax(o - 0.5, e), ifelse(o < e, pmin(o + 0.5, e), o))
    g2y <- 2 * sum(ifelse(o != 0, log(o / e) * o, 0))
    x2y_r <- suppressWarnings(chisq.test(m, correct = TRUE)$statistic[[1]])
  }
  # Pearson's statistic also from chisq.test (R has no likelihood-ratio test
  # in its base packages; its statistic is the reference's own)
  x2_r <- suppressWarnings(if (twoway) chisq.test(m, correct = FALSE)$statistic[[1]]
                           else chisq.test(tb$x, p = tb$prop)$statistic[[1]])
  for (which in c("LR", "X2")) {
    s <- if (which == "LR") sobs$G2 else sobs$X2
    s_r <- if (which == "LR") sobs$G2 else x2_r
    add(T(if (which == "LR") "Approx. Likelihood Ratio test" else "Approx. Chi-Square test (Pearson)"))
    add(L("  Chi^2 = %7.3f, df= %2d,           p  =  %9.6f", s, df, nr_pvalue(s, df),
          alt = list(s_r, df, pchisq(s_r, df, lower.tail = FALSE)), tag = paste0("approx", which)))
    if (yates) {
      sy <- if (which == "LR") g2y else x2y
      alt <- if (which == "X2") list(x2y_r, pchisq(x2y_r, 1, lower.tail = FALSE)) else NULL
      add(L("  Yates:  Chi^2 = %7.3f,           p  =  %9.6f", sy, nr_pvalue(sy, 1),
            alt = alt, tag = paste0("yates", which)))
    }
    add(L("  (min.expected =%4.1f)", minexp, tag = "minexp"), T(""))
  }
  # 2 x 2 Fisher blocks
  if (twoway && r == 2 && c == 2) {
    x <- m[1, 1]; R1 <- R[1]; R2 <- R[2]; C1 <- C[1]
    less <- phyper(x - 1, R1, R2, C1); eq <- dhyper(x, R1, R2, C1)
    greater <- phyper(x, R1, R2, C1, lower.tail = FALSE)
    mt <- min(less, greater)
    t1 <- min(1, (mt + eq) * 2); t2 <- min(1, 2 * mt + eq)
    one <- if (less >= greater) greater + eq else less + eq
    one_r <- if (less >= greater) fisher.test(m, alternative = "greater")$p.value
             else fisher.test(m, alternative = "less")$p.value
    two_r <- fisher.test(m)$p.value
    add(T(""), T("2 x 2 Fisher exact test - 'two tailed'."),
        L("              p( X11 < %3d )     =         %9.6f", x, less, tag = "fisher2x2"),
        L("              P( X11 = %3d )     =         %9.6f", x, eq, tag = "fisher2x2"),
        L("              p( X11 > %3d )     =         %9.6f", x, greater, tag = "fisher2x2"),
        L(" (not recom.)     p-two tailed   =         %9.6f", t1, tag = "fisher2x2"),
        L(" (corrected)      p-two tailed   =         %9.6f", t2, alt = list(two_r), tag = "fisher2x2two"),
        T(""))
    add(T(""), T("2 x 2 Fisher exact test - one tailed."),
        L("                p-one tailed   =           %9.6f", one, alt = list(one_r), tag = "fisher2x2one"),
        T("  (Remember to check the direction)"), T(""))
  }
  add(L("Number of sample points = %d", nrow(tabs), tag = "points"))
  list(lines = out, tp = tp, tg = tg, tx = tx, psum = sum(p), points = nrow(tabs))
}

## ---------------------------------------------------------------------------
## Comparison of one line

num_re <- "[-+]?[0-9]+(\\.[0-9]+)?"

# Does the program's line carry the reference values to printed precision?
# Returns "ok", or a description of the difference.
render <- function(fmt, vals) do.call(sprintf, c(list(fmt), vals))

compare_line <- function(prog, exp) {
  want <- render(exp$fmt, exp$vals)
  if (identical(prog, want)) return(list(ok = TRUE))
  # same skeleton with the program's numbers?
  ptoks <- regmatches(prog, gregexpr(num_re, prog))[[1]]
  wtoks <- regmatches(want, gregexpr(num_re, want))[[1]]
  skel <- function(s) gsub(num_re, "#", gsub(" ", "", s))
  if (length(ptoks) != length(wtoks) || skel(prog) != skel(want))
    return(list(ok = FALSE, what = "text", want = want))
  # numeric comparison: a printed decimal may differ from the reference by
  # half a unit of its last place plus a hair, for values on a rounding edge
  nums <- Filter(function(v) !is.character(v), exp$vals)
  # tokens that stem from the format's own literal text (e.g. "2" in "Chi^2")
  lit <- regmatches(exp$fmt, gregexpr(num_re, gsub("%[-0-9.]*[a-z]+", "", exp$fmt)))[[1]]
  drop <- length(ptoks) - length(nums)
  if (drop != length(lit)) return(list(ok = FALSE, what = "text", want = want))
  # literal digits come first in all formats used here ("Chi^2", "X11" ...)
  pvals <- as.numeric(ptoks[seq_len(length(nums)) + drop])
  decs <- nchar(sub("^[^.]*\\.?", "", ptoks[seq_len(length(nums)) + drop]))
  tol <- ifelse(decs > 0, 0.5 * 10^-decs + 1e-9, 0)
  ref <- unlist(nums)
  bad <- abs(pvals - ref) > tol
  if (!any(bad)) return(list(ok = TRUE, edge = TRUE))
  list(ok = FALSE, what = "value", want = want, bad = which(bad))
}

## ---------------------------------------------------------------------------
## The run

set.seed(opt$seed)
t0 <- Sys.time()
# the reference report is made as soon as a table is drawn, and the
# enumerated tables are dropped again to keep the memory small
with_reference <- function(tb) { tb$ref <- expected_report(tb); tb$tables <- NULL; tb }
tables <- c(lapply(seq_len(opt$two), function(i) with_reference(make_twoway(opt$max_points))),
            lapply(seq_len(opt$one), function(i) with_reference(make_oneway(opt$max_points))))
tables <- tables[sample(length(tables))]       # one-way and two-way mixed in the file
t_gen <- Sys.time()   # drawing, enumeration and reference reports

dir <- if (is.na(opt$keep)) tempfile("rcheck") else opt$keep
dir.create(dir, showWarnings = FALSE, recursive = TRUE)
datafile <- file.path(dir, "tables.dat")
con <- file(datafile, "w")
for (tb in tables) {
  if (tb$type == "two") {
    for (i in seq_len(nrow(tb$m))) writeLines(paste(tb$m[i, ], collapse = " "), con)
    writeLines("", con)
  } else {
    if (tb$column) writeLines(as.character(tb$x), con) else writeLines(paste(tb$x, collapse = " "), con)
    writeLines("", con)
    # weights of a single column stand on one line or one per line
    if (!is.null(tb$w)) writeLines(if (tb$column && tb$w_per_line) as.character(tb$w) else paste(tb$w, collapse = " "), con)
    writeLines("", con)
  }
}
close(con)

options_on <- c("Observed", "Expected", "Column", "Row", "ExaLRtest", "ExaCStest", "CountPos",
                "AppLRtest", "AppCStest", "2x2twotail", "2x2onetail")

describe_table <- function(tb) {
  if (tb$type == "two")
    paste0(nrow(tb$m), "x", ncol(tb$m), " [", tb$kind, "] ",
           paste(apply(tb$m, 1, paste, collapse = " "), collapse = " / "))
  else
    paste0("one-way ", if (tb$column) "column" else "row", if (tb$column && !is.null(tb$w) && tb$w_per_line) " (weights one per line)" else "", " k=", length(tb$x), " [", tb$kind, "] ",
           paste(tb$x, collapse = " "), if (!is.null(tb$w)) paste0("  weights ", paste(tb$w, collapse = " ")) else "")
}

# Runs the program once over the data file (with KELVORIN_NETWORK_FROM set to
# `network` unless it is "default") and compares every report with its
# reference. Prints the differences; returns the counts.
check_run <- function(network) {
  outfile <- file.path(dir, paste0("report-", network, ".txt"))
  errfile <- file.path(dir, paste0("stderr-", network, ".txt"))
  env <- if (network != "default") paste0("KELVORIN_NETWORK_FROM=", network) else character(0)
  t1 <- Sys.time()
  status <- system2(opt$program,
                    c("--batch", shQuote(datafile), "--output", shQuote(outfile), "--no-settings",
                      paste0("--option ", options_on, "=1")),
                    stdout = FALSE, stderr = errfile, env = env)
  t2 <- Sys.time()
  cat(sprintf("\n== run with KELVORIN_NETWORK_FROM=%s (%.1f s)\n", if (network == "default") "<unset>" else network,
              as.numeric(t2 - t1, units = "secs")))
  if (!file.exists(outfile)) { cat("no report written; status", status, "\n"); return(list(faults = 1L, status = 2L)) }
  report <- readLines(outfile)
  if (status != 0) {
    cat(sprintf("program exit status %d; stderr:\n", status))
    cat(readLines(errfile), sep = "\n")
  }
  # split the report at the banners
  starts <- which(grepl("^Zelkat {16}", report))
  if (length(starts) != length(tables)) {
    cat(sprintf("%d reports for %d tables\n", length(starts), length(tables)))
    return(list(faults = 1L, status = status))
  }
  faults <- 0L
  notes <- list()                 # differences with R's conventions, not with the reference
  edges <- 0L
  checked <- c(two = 0L, one = 0L)
  for (ti in seq_along(tables)) {
    tb <- tables[[ti]]
    lo <- starts[ti] + 1
    hi <- if (ti < length(starts)) starts[ti + 1] - 2 else length(report)
    got <- report[lo:hi]
    # the first line before the banner is one blank
    if (report[starts[ti] - 1] != " ") {
      faults <- faults + 1L
      cat(sprintf("table %d: line before the banner is '%s'\n", ti, report[starts[ti] - 1]))
    }
    if (!grepl("^Zelkat {16}[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$", report[starts[ti]])) {
      faults <- faults + 1L
      cat(sprintf("table %d: banner '%s'\n", ti, report[starts[ti]]))
    }
    ref <- tb$ref
    want <- ref$lines
    # closing: the used-time line and an empty line after the sample points
    ut <- grep("^  Used time : ", got)
    if (length(ut) != 1 || ut != length(got) - 1 || got[length(got)] != "") {
      faults <- faults + 1L
      cat(sprintf("table %d (%s): closing lines not as expected\n", ti, describe_table(tb)))
    } else got <- got[seq_len(ut - 1)]
    warn <- grep("^Warning :", got)
    if (length(warn)) {
      d <- 1 - ref$psum
      notes[[length(notes) + 1]] <- list(tag = "warning", text = sprintf("table %d (%s): %s (R's 1 - sum = %.3E)", ti, describe_table(tb), got[warn], d))
      got <- got[-warn]
    }
    checked[tb$type] <- checked[tb$type] + 1L
    problems <- character(0)
    n <- max(length(got), length(want))
    for (li in seq_len(n)) {
      if (li > length(got) || li > length(want)) {
        problems <- c(problems, sprintf("  line %d: program '%s' / reference '%s'", li,
                                        if (li <= length(got)) got[li] else "<none>",
                                        if (li <= length(want)) render(want[[li]]$fmt, want[[li]]$vals) else "<none>"))
        next
      }
      w <- want[[li]]
      res <- compare_line(got[li], w)
      if (isTRUE(res$edge)) edges <- edges + 1L
      if (res$ok) {
        # the line agrees with the reference; now R's own functions
        if (!is.null(w$alt)) {
          altline <- list(fmt = w$fmt, vals = if (length(w$alt) == length(w$vals)) w$alt
                                                else c(w$vals[seq_len(length(w$vals) - length(w$alt))], w$alt))
          ra <- compare_line(got[li], altline)
          if (!ra$ok)
            notes[[length(notes) + 1]] <- list(tag = w$tag, text = sprintf("table %d (%s) [%s]\n    program: '%s'\n    R:       '%s'",
                                                  ti, describe_table(tb), w$tag, got[li], render(altline$fmt, altline$vals)))
        }
        next
      }
      # the line differs from the reference: does it agree with R's own functions?
      why <- ""
      if (!is.null(w$alt)) {
        altline <- list(fmt = w$fmt, vals = if (length(w$alt) == length(w$vals)) w$alt
                                              else c(w$vals[seq_len(length(w$vals) - length(w$alt))], w$alt))
        if (compare_line(got[li], altline)$ok) why <- " (agrees with R's function, not with the documented rule)"
      }
      problems <- c(problems, sprintf("  [%s] program:   '%s'\n  %s  reference: '%s'%s", w$tag, got[li],
                                      strrep(" ", nchar(w$tag) + 2), res$want, why))
    }
    nearnote <- if (ref$tp$near_edge || ref$tg$near_edge || ref$tx$near_edge) " (a sample point lies within 0.1% of a tolerance edge)" else ""
    if (length(problems)) {
      faults <- faults + 1L
      cat(sprintf("DIFFERENCE table %d: %s%s\n", ti, describe_table(tb), nearnote))
      cat(problems, sep = "\n"); cat("\n")
    }
  }

  # Lines that agree with the reference but not with R's function, by kind.
  # The 2 x 2 two-tailed "corrected" value (twice the smaller tail plus the
  # observed probability) is not R's two-sided p, so those are only counted.
  explain <- c(exactP = "probability ordering p vs fisher.test()$p.value",
               fisher2x2two = "2 x 2 'corrected' two-tailed p vs fisher.test() two-sided",
               fisher2x2one = "2 x 2 one-tailed p vs fisher.test() with the alternative of the smaller tail",
               approxLR = "approximate LR p vs pchisq()", approxX2 = "approximate Pearson p vs pchisq()",
               yatesX2 = "Pearson Yates vs chisq.test(correct = TRUE)",
               warning = "sum-of-probabilities warning")
  if (length(notes)) {
    tags <- sapply(notes, `[[`, "tag")
    cat(sprintf("\n%d line(s) agree with the reference but not with R's function:\n", length(notes)))
    for (tg in unique(tags)) {
      sel <- notes[tags == tg]
      lab <- if (!is.na(explain[tg])) explain[[tg]] else tg
      cat(sprintf("- %s: %d line(s)%s\n", lab, length(sel), if (tg == "fisher2x2two") " (different definitions; first 2 shown)" else ""))
      show <- if (tg == "fisher2x2two") head(sel, 2) else sel
      cat(sapply(show, `[[`, "text"), sep = "\n"); cat("\n")
    }
  }
  cat(sprintf("checked %d two-way and %d one-way reports: %d with differences; %d values on a rounding edge\n",
              checked[["two"]], checked[["one"]], faults, edges))
  list(faults = faults, status = status, checked = checked)
}

runs <- strsplit(opt$network_from, ",")[[1]]
results <- lapply(runs, check_run)
t_end <- Sys.time()
cat("\n")
pts <- sapply(tables, function(tb) tb$ref$points)
for (ty in c("two", "one")) {
  q <- pts[sapply(tables, `[[`, "type") == ty]
  if (length(q)) cat(sprintf("%s-way sample points per table: median %d, upper quartile %d, largest %d, total %.0f\n",
                             ty, as.integer(median(q)), as.integer(quantile(q, 0.75)), as.integer(max(q)), sum(q)))
}
cat(sprintf("seed %d: %d two-way and %d one-way tables, %d run(s); time: tables, enumeration and reference %.1f s, runs and comparison %.1f s\n",
            opt$seed, sum(sapply(tables, `[[`, "type") == "two"), sum(sapply(tables, `[[`, "type") == "one"),
            length(runs), as.numeric(t_gen - t0, units = "secs"), as.numeric(t_end - t_gen, units = "secs")))
if (is.na(opt$keep)) unlink(dir, recursive = TRUE)
bad <- any(sapply(results, function(r) r$faults > 0 || r$status != 0))
quit(status = if (bad) 1 else 0)
